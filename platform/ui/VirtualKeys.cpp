#include "VirtualKeys.h"

#include <Qt>
#include <array>
#include <utility>

namespace {
constexpr std::array<std::pair<WORD, int>, 30> kKeys = {{
    {0x08, Qt::Key_Backspace}, {0x09, Qt::Key_Tab},        {0x0D, Qt::Key_Return},
    {0x10, Qt::Key_Shift},     {0x11, Qt::Key_Control},    {0x12, Qt::Key_Alt},
    {0x13, Qt::Key_Pause},     {0x14, Qt::Key_CapsLock},   {0x1B, Qt::Key_Escape},
    {0x20, Qt::Key_Space},     {0x21, Qt::Key_PageUp},     {0x22, Qt::Key_PageDown},
    {0x23, Qt::Key_End},       {0x24, Qt::Key_Home},       {0x25, Qt::Key_Left},
    {0x26, Qt::Key_Up},        {0x27, Qt::Key_Right},      {0x28, Qt::Key_Down},
    {0x2C, Qt::Key_Print},     {0x2D, Qt::Key_Insert},     {0x2E, Qt::Key_Delete},
    {0x90, Qt::Key_NumLock},   {0x91, Qt::Key_ScrollLock}, {0x5D, Qt::Key_Menu},
    {0x6A, Qt::Key_Asterisk},  {0x6B, Qt::Key_Plus},       {0x6D, Qt::Key_Minus},
    {0xBC, Qt::Key_Comma},     {0xBE, Qt::Key_Period},     {0xBF, Qt::Key_Slash},
}};
}  // namespace

WORD VirtualKeyFromQtKey(int nQtKey) {
    if ((nQtKey >= Qt::Key_A && nQtKey <= Qt::Key_Z) ||
        (nQtKey >= Qt::Key_0 && nQtKey <= Qt::Key_9)) {
        return static_cast<WORD>(nQtKey);  // the same ASCII codes
    }
    if (nQtKey >= Qt::Key_F1 && nQtKey <= Qt::Key_F24) {
        return static_cast<WORD>(0x70 + (nQtKey - Qt::Key_F1));
    }
    if (nQtKey == Qt::Key_Enter) {
        return 0x0D;
    }
    for (const auto& [vk, key] : kKeys) {
        if (key == nQtKey) {
            return vk;
        }
    }
    return 0;
}

int QtKeyFromVirtualKey(WORD wVirtualKey) {
    if ((wVirtualKey >= 'A' && wVirtualKey <= 'Z') || (wVirtualKey >= '0' && wVirtualKey <= '9')) {
        return wVirtualKey;
    }
    if (wVirtualKey >= 0x70 && wVirtualKey <= 0x87) {
        return Qt::Key_F1 + (wVirtualKey - 0x70);
    }
    for (const auto& [vk, key] : kKeys) {
        if (vk == wVirtualKey) {
            return key;
        }
    }
    return Qt::Key_unknown;
}
