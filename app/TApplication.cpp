#include "app/TApplication.h"

#include "qtcommon/DefaultErrorDisplay.h"

#include <QFont>
#include <QLibraryInfo>
#include <QTranslator>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setUpLocalisation(*this);
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        DefaultErrorDisplay::show(error);
        return false;
    }
}

void TApplication::setUpLocalisation(QApplication& application)
{
    // qt_zh_CN is the catalog of all Qt modules: the one windeployqt puts in
    // the program's translations folder, and on Linux a catalog that loads the
    // modules' own (qtbase_zh_CN among them).
    auto* translator = new QTranslator(&application);
    if (translator->load(QStringLiteral("qt_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    else
        delete translator;

    // The forms name Windows fonts; elsewhere the first installed CJK font stands in.
    const QStringList cjkFonts = {QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                                  QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                                  QStringLiteral("Noto Serif CJK SC"), QStringLiteral("AR PL UMing CN")};
    QFont::insertSubstitutions(QStringLiteral("宋体"), cjkFonts);
    QFont::insertSubstitutions(QStringLiteral("SimSun"), cjkFonts.mid(1));
    QFont uiFont = QApplication::font();
    uiFont.setFamilies(QStringList{QStringLiteral("Microsoft YaHei"), QStringLiteral("SimSun")} + cjkFonts.mid(2));
    uiFont.setPointSize(9);
    QApplication::setFont(uiFont);
}
