#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

// The test classes of grid_tests register themselves; main runs them all.
using TestFactory = std::function<std::unique_ptr<QObject>()>;

inline std::vector<TestFactory>& registeredTests()
{
    static std::vector<TestFactory> tests;
    return tests;
}

struct TestRegistration {
    explicit TestRegistration(TestFactory factory) { registeredTests().push_back(std::move(factory)); }
};

#define REGISTER_GRID_TEST(Class) \
    static const TestRegistration registration##Class([] { return std::unique_ptr<QObject>(new Class); })
