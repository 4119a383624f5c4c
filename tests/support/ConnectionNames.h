// A collection's connection names in the order the collection walks them.
#pragma once

#include <vector>

#include "connections/Connections.h"

inline std::vector<CString> ConnectionNames(const CConnections& connections) {
    std::vector<CString> names;
    POSITION pos = connections.GetStartPosition();
    while (pos != nullptr) {
        CString strName;
        CConnection* pConnection = nullptr;
        connections.GetNextAssoc(pos, strName, pConnection);
        names.push_back(strName);
    }
    return names;
}
