#include "support/ScriptedReply.h"

namespace PelkPlus {

ScriptedReply::ScriptedReply(const Headers& headers, QObject* parent)
    : QNetworkReply(parent)
{
    for (const auto& header : headers)
        setRawHeader(header.first, header.second);
}

ScriptedReply::~ScriptedReply() = default;

} // namespace PelkPlus
