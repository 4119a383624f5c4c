#include "FormatMessage.h"

#include <cstring>

namespace {
struct MessageEntry {
    DWORD code;
    const char* text;
};

// Windows errors appear both bare and wrapped as HRESULTs (0x8007xxxx).
const MessageEntry kMessages[] = {
    {0x00000000, "The operation completed successfully.\r\n"},
    {0x00000002, "The system cannot find the file specified.\r\n"},
    {0x00000003, "The system cannot find the path specified.\r\n"},
    {0x00000005, "Access is denied.\r\n"},
    {0x00000006, "The handle is invalid.\r\n"},
    {0x00000008, "Not enough memory resources are available to process this command.\r\n"},
    {0x0000000E, "Not enough memory resources are available to complete this operation.\r\n"},
    {0x00000057, "The parameter is incorrect.\r\n"},
    {0x000000AA, "The requested resource is in use.\r\n"},
    {0x000005B4, "This operation returned because the timeout period expired.\r\n"},
    {0x000006BA, "The RPC server is unavailable.\r\n"},
    {0x000006BE, "The remote procedure call failed.\r\n"},
    {0x000006BF, "The remote procedure call failed and did not execute.\r\n"},
    {0x000006CC, "The endpoint is a duplicate.\r\n"},
    {0x000006D1, "The procedure number is out of range.\r\n"},
    {0x000006D9, "There are no more endpoints available from the endpoint mapper.\r\n"},
    {0x000006F7, "The stub received bad data.\r\n"},
    {0x00002726, "An invalid argument was supplied.\r\n"},
    {0x0000274C,
     "A connection attempt failed because the connected party did not properly respond after a "
     "period of time, or established connection failed because connected host has failed to "
     "respond.\r\n"},
    {0x0000274D, "No connection could be made because the target machine actively refused it.\r\n"},
    {0x00002AF9, "No such host is known.\r\n"},
    {0x80004001, "Not implemented\r\n"},
    {0x80004002, "No such interface supported\r\n"},
    {0x80004003, "Invalid pointer\r\n"},
    {0x80004004, "Operation aborted\r\n"},
    {0x80004005, "Unspecified error\r\n"},
    {0x8000FFFF, "Catastrophic failure\r\n"},
    {0x80010105, "The server threw an exception.\r\n"},
    {0x80010108, "The object invoked has disconnected from its clients.\r\n"},
    // The only server a client of ours reaches; its error object says which
    // versions meet.
    {0x80010110, "The serial-port server speaks another protocol version than this program.\r\n"},
    {0x80020003, "Member not found.\r\n"},
    {0x80020005, "Type mismatch.\r\n"},
    {0x80020008, "Bad variable type.\r\n"},
    {0x80020009, "Exception occurred.\r\n"},
    {0x8002000B, "Invalid index.\r\n"},
    {0x8002000D, "Memory is locked.\r\n"},
    {0x80028019, "Old format or invalid type library.\r\n"},
    {0x80029C4A, "Error loading type library/DLL.\r\n"},
    {0x80030002, "%1 could not be found.\r\n"},
    {0x80040154, "Class not registered\r\n"},
    {0x800401F0, "CoInitialize has not been called.\r\n"},
    {0x80070002, "The system cannot find the file specified.\r\n"},
    {0x80070003, "The system cannot find the path specified.\r\n"},
    {0x80070005, "Access is denied.\r\n"},
    {0x80070006, "The handle is invalid.\r\n"},
    {0x8007000E, "Not enough memory resources are available to complete this operation.\r\n"},
    {0x80070057, "The parameter is incorrect.\r\n"},
    {0x800700AA, "The requested resource is in use.\r\n"},
    {0x800705B4, "This operation returned because the timeout period expired.\r\n"},
    {0x800706BA, "The RPC server is unavailable.\r\n"},
    {0x800706BE, "The remote procedure call failed.\r\n"},
    {0x800706BF, "The remote procedure call failed and did not execute.\r\n"},
    {0x800706CC, "The endpoint is a duplicate.\r\n"},
    {0x800706D1, "The procedure number is out of range.\r\n"},
    {0x800706F7, "The stub received bad data.\r\n"},
    {0x80070704, "The specified port is unknown.\r\n"},
    {0x80080005, "Server execution failed\r\n"},
};
}  // namespace

DWORD FormatMessageA(DWORD dwFlags, const void*, DWORD dwMessageId, DWORD, char* lpBuffer,
                     DWORD nSize, va_list*) {
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
        return 0;
    }
    for (const MessageEntry& e : kMessages) {
        if (e.code == dwMessageId) {
            size_t n = std::strlen(e.text);
            if (n + 1 > nSize) {
                return 0;
            }
            std::memcpy(lpBuffer, e.text, n + 1);
            return static_cast<DWORD>(n);
        }
    }
    return 0;
}
