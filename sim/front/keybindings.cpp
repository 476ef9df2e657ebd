#include <array>

#include "window.h"

namespace tapsim {
namespace {

using Kind = RemotePress::Kind;

// Digits send the key words that some remotes' keys are rewritten from, so the
// translation can be watched; N, P and Q send the module's own codes unchanged.
constexpr std::array kBindings = {
    KeyBinding{"Right", {Kind::Next}, "next page"},
    KeyBinding{"Down", {Kind::Next}, "next page"},
    KeyBinding{"PageDown", {Kind::Next}, "next page"},
    KeyBinding{"Left", {Kind::Previous}, "previous page"},
    KeyBinding{"Up", {Kind::Previous}, "previous page"},
    KeyBinding{"PageUp", {Kind::Previous}, "previous page"},
    KeyBinding{"Escape", {Kind::Quit}, "quit"},
    KeyBinding{"1", {Kind::Raw, 0x10024}, "key word 0x10024"},
    KeyBinding{"2", {Kind::Raw, 0x10025}, "key word 0x10025"},
    KeyBinding{"3", {Kind::Raw, 0x10026}, "key word 0x10026"},
    KeyBinding{"4", {Kind::Raw, 0x1003E}, "key word 0x1003E"},
    KeyBinding{"5", {Kind::Raw, 0x1003F}, "key word 0x1003F"},
    KeyBinding{"6", {Kind::Raw, 0x10044}, "key word 0x10044"},
    KeyBinding{"7", {Kind::Raw, 0x10047}, "key word 0x10047"},
    KeyBinding{"8", {Kind::Raw, 0x10048}, "key word 0x10048"},
    KeyBinding{"9", {Kind::Raw, 0x10049}, "key word 0x10049"},
    KeyBinding{"0", {Kind::Raw, 0x1004A}, "key word 0x1004A"},
    KeyBinding{"N", {Kind::Raw, 0x10045}, "key word 0x10045, untranslated"},
    KeyBinding{"P", {Kind::Raw, 0x10046}, "key word 0x10046, untranslated"},
    KeyBinding{"Q", {Kind::Raw, 0x10017}, "key word 0x10017, untranslated"},
    KeyBinding{"F", {Kind::Raw, 0x30045}, "key word 0x10045 with flag bit 0x20000"},
};

}  // namespace

std::span<const KeyBinding> keyBindings() { return kBindings; }

}  // namespace tapsim
