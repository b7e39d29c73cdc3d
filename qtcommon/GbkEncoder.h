#pragma once

#include <QByteArray>
#include <QStringEncoder>
#include <QStringView>

#include <optional>

// Qt text to the GBK code page (Windows code page 936), one converter kept
// for many pieces of text. The one place that knows how to reach GBK: Qt
// builds without ICU do not know it, so on Windows the system's code page
// 936 takes over.
class GbkEncoder {
public:
    GbkEncoder();
    GbkEncoder(const GbkEncoder&) = delete;
    GbkEncoder& operator=(const GbkEncoder&) = delete;

    // False where neither Qt nor the system can convert to GBK (only off
    // Windows, with a Qt built without ICU).
    bool isAvailable() const;

    // Appends the bytes of text; false (out unchanged) when a character has
    // no GBK code.
    bool append(QStringView text, QByteArray& out);

private:
    void renew();

    std::optional<QStringEncoder> m_encoder;
};
