#pragma once

namespace PelkPlus {

// The character type of the process locale, which hidapi's conversion of USB strings (serial
// numbers) to wide characters follows: under a C or POSIX locale a serial number with a character
// outside ASCII reads as empty.
class CharacterLocale
{
public:
    // Makes the process's LC_CTYPE UTF-8 capable when the environment's is not, trying the
    // environment's own first; every other locale category stays as it was, so no message, number
    // or date looks different. Called once the application object exists (it sets the whole locale
    // from the environment). True when the character type now is UTF-8.
    static bool makeUtf8Capable();

    // True when the current LC_CTYPE encodes characters in UTF-8.
    static bool isUtf8();
};

} // namespace PelkPlus
