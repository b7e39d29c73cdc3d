#include "TestRegistry.h"

#include <QApplication>
#include <QFont>
#include <QTest>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Fixed families, so that pictures compare the same on every machine.
    QFont font;
    font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("DejaVu Sans")});
    font.setPointSize(9);
    QApplication::setFont(font);

    int failures = 0;
    for (const TestFactory& makeTest : registeredTests()) {
        std::unique_ptr<QObject> test = makeTest();
        failures += QTest::qExec(test.get(), argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
