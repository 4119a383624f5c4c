// The slave side of a Modbus/TCP connection: requests framed by their MBAP
// header (transaction id, protocol id, length, unit id) and answers that
// carry the request's transaction and protocol ids. Requests may arrive
// split over any number of segments or several in one; a header with a
// protocol id other than 0 or a length field below 2 or above 254 ends the
// connection. Used by the gateway and by the simulator's TCP side.
#pragma once

#include <functional>

#include "platform/WinTypes.h"

class CByteStream;

class CMbapFramer {
public:
    static constexpr size_t HEADER_SIZE = 7;  // the header including the unit id
    static constexpr WORD MAX_LENGTH_FIELD = 254;

    // Why Serve returned.
    enum class EEnd { Stopped, PeerClosed, Malformed, Refused };
    // Gets each complete request (header and PDU, nFrame >= 8); false ends
    // the connection.
    using Handler = std::function<bool(const BYTE* pbFrame, size_t nFrame)>;

    // Reads hSocket and hands every complete request to onRequest, in order,
    // until hStopEvent becomes readable, the peer closes, a header is
    // malformed or onRequest refuses to go on.
    EEnd Serve(int hSocket, int hStopEvent, const Handler& onRequest);
    // The same over any byte stream (a secured connection, for one).
    EEnd Serve(CByteStream& stream, int hStopEvent, const Handler& onRequest);

    // The protocol id and length field of the header that ended Serve with
    // EEnd::Malformed.
    WORD GetProtocol() const { return m_wProtocol; }
    WORD GetLength() const { return m_wLength; }

    // The answer to pbRequest from unit: the request's transaction and
    // protocol ids, the length field (1 + the PDU's size + nLengthBias, the
    // bias there to send a wrong one on purpose), the unit id and the PDU.
    static CByteArray Answer(const BYTE* pbRequest, BYTE unit, const CByteArray& pdu,
                             size_t nLengthBias = 0);
    // Sends all n bytes; false when the socket fails or its send timeout ends.
    static bool Send(int hSocket, const BYTE* pb, size_t n);

private:
    // Hands on every complete request buffered; false when the connection
    // must end, with the reason in end.
    bool Dispatch(const Handler& onRequest, EEnd& end);

    CByteArray m_pending;
    WORD m_wProtocol = 0;
    WORD m_wLength = 0;
};
