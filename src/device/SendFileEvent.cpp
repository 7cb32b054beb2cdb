#include "device/SendFileEvent.h"

namespace PelkPlus {

SendFileEvent::SendFileEvent(int fileType, const QString& path)
    : QEvent(Type)
    , fileType(fileType)
    , path(path)
    , inMemory(false)
{ }

SendFileEvent::SendFileEvent(int fileType, const QByteArray& contents, const QString& name)
    : QEvent(Type)
    , fileType(fileType)
    , path(name)
    , contents(contents)
    , inMemory(true)
{ }

SendFileEvent::~SendFileEvent() = default;

} // namespace PelkPlus
