// The program's resources: dialog templates, menus, accelerators, the tool
// bar, the string table, icons, bitmaps and the version record.
#pragma once

#include "platform/ui/ResourceModule.h"

// The module, built once.
const CResourceModule& RegprobeResources();

// The parts, each filling its tables.
void AddDialogTemplates(CResourceModule& module);
void AddMenusAndBars(CResourceModule& module);
void AddStringTable(CResourceModule& module);
