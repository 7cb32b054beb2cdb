#include "device/BusConnection.h"

#include <cstdlib>

namespace PelkPlus {

bool BusConnection::tcpAddress(const std::string& busName, std::uint32_t* address, std::uint16_t* port)
{
    if (busName.rfind("tcp:", 0) != 0)
        return false;
    const size_t colon = busName.rfind(':');
    if (colon <= 4)
        return false;
    const std::string host = busName.substr(4, colon - 4);
    const std::string portText = busName.substr(colon + 1);
    char* end = nullptr;
    const unsigned long number = std::strtoul(portText.c_str(), &end, 10);
    if (portText.empty() || *end != '\0' || number == 0 || number > 65535)
        return false;
    // Four decimal parts, each a byte: nothing a resolver would have to look up.
    std::uint32_t value = 0;
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t dot = part < 3 ? host.find('.', start) : host.size();
        if (dot == std::string::npos || dot == start || dot - start > 3)
            return false;
        unsigned byte = 0;
        for (size_t i = start; i < dot; ++i) {
            if (host[i] < '0' || host[i] > '9')
                return false;
            byte = byte * 10 + unsigned(host[i] - '0');
        }
        if (byte > 255)
            return false;
        value = (value << 8) | byte;
        start = dot + 1;
    }
    if ((value >> 24) != 127)
        return false;
    *address = value;
    *port = static_cast<std::uint16_t>(number);
    return true;
}

} // namespace PelkPlus
