#include "app/CharacterLocale.h"

#include <clocale>
#include <cstring>
#include <string>

#if defined(__unix__)
#include <langinfo.h>
#endif

namespace PelkPlus {

bool CharacterLocale::isUtf8()
{
#if defined(__unix__)
    const char* codeset = nl_langinfo(CODESET);
    return codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
#else
    return true;
#endif
}

bool CharacterLocale::makeUtf8Capable()
{
#if defined(__unix__)
    const char* current = std::setlocale(LC_CTYPE, "");
    if (current && isUtf8())
        return true;
    const std::string previous = current ? current : "C";
    // Names under which a UTF-8 character type is found, the neutral one first: it changes nothing
    // but the encoding.
    for (const char* name : { "C.UTF-8", "C.utf8", "en_US.UTF-8" }) {
        if (std::setlocale(LC_CTYPE, name) && isUtf8())
            return true;
    }
    std::setlocale(LC_CTYPE, previous.c_str());
    return false;
#else
    return true;
#endif
}

} // namespace PelkPlus
