#include "LayoutSaveChild.h"
#include "TestRegistry.h"

#include <QApplication>
#include <QFont>
#include <QTest>

#include <cstdlib>
#include <cstring>

// Runs every registered test class. An argument naming a class (for example
// `grid_tests DBGridExSortTest`) runs only that one; the other arguments go
// to Qt Test as usual.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Fixed families, so that pictures compare the same on every machine.
    QFont font;
    font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("DejaVu Sans")});
    font.setPointSize(9);
    QApplication::setFont(font);
    if (argc == 4 && std::strcmp(argv[1], kSaveWidthsChild) == 0)
        return saveWidthsInChild(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));

    std::vector<std::unique_ptr<QObject>> tests;
    for (const TestFactory& makeTest : registeredTests())
        tests.push_back(makeTest());

    std::vector<char*> arguments{argv[0]};
    QStringList wanted;
    for (int i = 1; i < argc; ++i) {
        const bool namesClass = std::any_of(tests.begin(), tests.end(), [&](const auto& test) {
            return std::strcmp(test->metaObject()->className(), argv[i]) == 0;
        });
        if (namesClass)
            wanted << QString::fromLatin1(argv[i]);
        else
            arguments.push_back(argv[i]);
    }

    int failures = 0;
    for (const auto& test : tests) {
        if (!wanted.isEmpty() && !wanted.contains(QString::fromLatin1(test->metaObject()->className())))
            continue;
        failures += QTest::qExec(test.get(), int(arguments.size()), arguments.data());
    }
    return failures == 0 ? 0 : 1;
}
