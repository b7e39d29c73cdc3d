#include "HostileSupport.h"

#include "app/TApplication.h"

#include <QApplication>
#include <QTest>

#include <cstring>

// Runs every registered test class. An argument naming a class (for example
// `hostile_tests SignInHostileTest`) runs only that one; the other arguments
// go to Qt Test as usual.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TApplication::setUpLocalisation(app);

    std::vector<std::unique_ptr<QObject>> tests;
    for (const HostileTestFactory& makeTest : hostileTests())
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
