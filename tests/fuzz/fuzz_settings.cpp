// Any text given as line settings is either refused with an Error or parsed into settings that
// read back as themselves.
#include "errors/error.h"
#include "serial/linesettings.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        const hexline::LineSettings s = hexline::parseLineSettings(text);
        if (s.baudRate < 1 || s.dataBits < QSerialPort::Data5 || s.dataBits > QSerialPort::Data8)
            std::abort();
        const hexline::LineSettings again = hexline::parseLineSettings(hexline::toString(s));
        if (again.baudRate != s.baudRate || again.parity != s.parity ||
            again.dataBits != s.dataBits || again.stopBits != s.stopBits)
            std::abort();
    } catch (const hexline::Error& e) {
        if (e.message().isEmpty() || e.message().contains(u'\n'))
            std::abort();
    }
    return 0;
}
