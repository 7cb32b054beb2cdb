#include "device/SendFileEvent.h"

namespace PelkPlus {

SendFileEvent::SendFileEvent(int fileType, const QString& path)
    : QEvent(Type)
    , fileType(fileType)
    , path(path)
{ }

SendFileEvent::~SendFileEvent() = default;

} // namespace PelkPlus
