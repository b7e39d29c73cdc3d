// Fuzz target: the layout file (ColumnINFO.ini) as any bytes: reading,
// then writing and deleting keys, must give values or the file's own
// error, never a crash.
#include "grid/EIniFileException.h"
#include "grid/IniFile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cstdint>
#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path =
        QDir::tempPath() + QStringLiteral("/usbkey-fuzz-layout-%1.ini").arg(QRandomGenerator::global()->generate());
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    IniFile ini(path);
    static const char* sections[] = {"TFrmMain.DBGridEx1", "TFrmMain.DBGridEx1W", "TFrmMain.DBGridEx1C", "", "x"};
    for (const char* s : sections) {
        const QString section = QString::fromLatin1(s);
        ini.SectionExists(section);
        ini.ReadString(section, QStringLiteral("id"), QStringLiteral("?"));
        ini.ReadInteger(section, QStringLiteral("USBKEY_SERIAL"), 60);
    }
    try {
        ini.WriteString(QStringLiteral("TFrmMain.DBGridEx1C"), QStringLiteral("username"), QStringLiteral("用户名"));
        ini.WriteInteger(QStringLiteral("TFrmMain.DBGridEx1W"), QStringLiteral("id"), 80);
        ini.DeleteKey(QStringLiteral("TFrmMain.DBGridEx1"), QStringLiteral("id"));
    } catch (const std::exception&) {
    }
    return 0;
}
