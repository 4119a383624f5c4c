// Reads arbitrary text as a workspace file. What is taken must come out
// again as it went in: its own text read back gives the same text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "workspace/Workspace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CWorkspace ws;
    CString strError;
    if (!WorkspaceFromText(std::string(data, data + size), ws, strError)) {
        if (strError.empty()) {
            __builtin_trap();  // every refusal says why
        }
        return 0;
    }
    const std::string strText = WorkspaceToText(ws);
    CWorkspace again;
    if (!WorkspaceFromText(strText, again, strError) || WorkspaceToText(again) != strText) {
        __builtin_trap();
    }
    return 0;
}
