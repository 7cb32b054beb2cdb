#pragma once

namespace PelkPlus {

// How much a message to the user weighs; a face shows each kind in its own way (an icon, a colour,
// a prefix).
enum class MessageKind {
    Information,
    Warning,
    Critical,
};

} // namespace PelkPlus
