#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// The test classes of hostile_tests register themselves; main runs them all.
using HostileTestFactory = std::function<std::unique_ptr<QObject>()>;

inline std::vector<HostileTestFactory>& hostileTests()
{
    static std::vector<HostileTestFactory> tests;
    return tests;
}

struct HostileTestRegistration {
    explicit HostileTestRegistration(HostileTestFactory factory) { hostileTests().push_back(std::move(factory)); }
};

#define REGISTER_HOSTILE_TEST(Class) \
    static const HostileTestRegistration registration##Class([] { return std::unique_ptr<QObject>(new Class); })

namespace hostile {

inline QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(bytes);
}

inline QByteArray sha256(const QString& path)
{
    return QCryptographicHash::hash(readBytes(path), QCryptographicHash::Sha256).toHex();
}

// A text of n copies of one character.
inline QString repeated(QChar c, qsizetype n) { return QString(n, c); }

} // namespace hostile
