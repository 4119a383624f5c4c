// The properties that carry the framework's ids on Qt objects: a command's
// id on its action, a bar's on its tool or status bar, a control's on its
// widget. Written and read only through these names.
#pragma once

inline constexpr char kCommandIdProperty[] = "regprobeCommandId";
inline constexpr char kBarIdProperty[] = "regprobeBarId";
inline constexpr char kControlIdProperty[] = "regprobeDlgCtrlId";
