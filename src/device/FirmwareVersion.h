#pragma once

#include <QString>

namespace PelkPlus {

enum ReleaseType : int {
    Alpha = 0,
    Beta = 1,
    PreProduction = 2,
    Production = 3,
};

// Version of the MCU or DSP firmware: release type, major, minor.
struct FirmwareVersion
{
    int releaseType = 0;
    int major = 0;
    int minor = 0;

    // Splits a version word: high byte release type, bits 7-4 major, bits 3-0 minor.
    static FirmwareVersion fromWord(unsigned word);
    unsigned toWord() const;

    QString toString() const;
    QString displayText() const;

    friend bool operator==(const FirmwareVersion& a, const FirmwareVersion& b)
    {
        return a.releaseType == b.releaseType && a.major == b.major && a.minor == b.minor;
    }
    friend bool operator!=(const FirmwareVersion& a, const FirmwareVersion& b) { return !(a == b); }
    friend bool operator<(const FirmwareVersion& a, const FirmwareVersion& b)
    {
        if (a.releaseType != b.releaseType)
            return a.releaseType < b.releaseType;
        if (a.major != b.major)
            return a.major < b.major;
        return a.minor < b.minor;
    }
    friend bool operator>(const FirmwareVersion& a, const FirmwareVersion& b) { return b < a; }
    friend bool operator<=(const FirmwareVersion& a, const FirmwareVersion& b) { return !(b < a); }
    friend bool operator>=(const FirmwareVersion& a, const FirmwareVersion& b) { return !(a < b); }
};

// "Alpha", "Beta", "Pre-production", "Production"; empty for any other value.
QString releaseTypeText(int releaseType);

// Parses "r.M.m" with r 0 to 255 and M and m 0 to 15, what the device's version word holds; never
// fails, anything else gives zeros.
FirmwareVersion parseFirmwareVersion(const QString& text);

// "0x" and the value in upper-case hexadecimal without leading zeros.
QString hexVersionText(quint32 value);

} // namespace PelkPlus
