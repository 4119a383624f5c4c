// The hourglass for the lifetime of the object; nests.
#pragma once

class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

    // Puts the hourglass back after something (a message box) changed it.
    void Restore();
};
