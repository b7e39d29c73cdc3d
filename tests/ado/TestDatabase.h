#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Files for one test in a temporary folder: a register database made by
// `jetdb demo`, or a copy of an Access-made file (tests never change the
// originals).
class TestDatabase {
public:
    TestDatabase() { EXPECT_TRUE(m_dir.isValid()); }

    QString folder() const { return m_dir.path(); }

    // Creates the register database (tables all_key, counted, SME_KEY_DEPT,
    // SME_PROVINCE_LIST) with `entries` rows in all_key, the last `pending`
    // not exported; protected by `password` when one is given; an Access
    // 2010 file when the name ends in .accdb.
    QString makeRegister(const QString& relativePath = QStringLiteral("vask.mdb"), int entries = 200, int pending = 20,
                         const QString& password = QString())
    {
        QString path = m_dir.filePath(relativePath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QStringList arguments{QStringLiteral("demo"), path, QStringLiteral("--entries"), QString::number(entries),
                              QStringLiteral("--pending"), QString::number(pending)};
        if (path.endsWith(QStringLiteral(".accdb"), Qt::CaseInsensitive)) arguments << QStringLiteral("--accdb");
        if (!password.isEmpty()) arguments = QStringList{QStringLiteral("--password"), password} + arguments;
        QProcess jetdb;
        jetdb.start(QStringLiteral(JETDB_PATH), arguments);
        EXPECT_TRUE(jetdb.waitForFinished(60000));
        EXPECT_EQ(jetdb.exitCode(), 0) << jetdb.readAllStandardError().toStdString();
        return path;
    }

    // A data-link file as Windows writes it: UTF-16LE with a byte-order
    // mark, CRLF lines "[oledb]", the comment, then the connection string.
    static void writeDataLink(const QString& path, const QString& connectionString)
    {
        QString text = QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n") +
                       connectionString + QStringLiteral("\r\n");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("\xFF\xFE");
        file.write(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    }

    QString copyOf(const QString& accessFile)
    {
        QString target = m_dir.filePath(accessFile);
        QFile::remove(target);
        // Access 2007 and later files lie beside the older ones.
        const QString folder = accessFile.endsWith(QStringLiteral(".accdb")) ? QStringLiteral(USBKEY_TESTDATA_DIR "/../accdb/")
                                                                              : QStringLiteral(USBKEY_TESTDATA_DIR "/");
        EXPECT_TRUE(QFile::copy(folder + accessFile, target));
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        return target;
    }

    // The rows of a table as mdb-json prints them (an independent reader), or
    // nothing with `available` false when mdbtools is not installed.
    static QStringList mdbJson(const QString& file, const QString& table, bool& available)
    {
        QString program = QStandardPaths::findExecutable(QStringLiteral("mdb-json"));
        available = !program.isEmpty();
        if (!available) return {};
        QProcess reader;
        reader.start(program, {file, table});
        EXPECT_TRUE(reader.waitForFinished(60000));
        EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
        return QString::fromUtf8(reader.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir m_dir;
};
