// A master whose transport is a script: each Transact records the request and
// plays the next scripted answer.
#pragma once

#include <deque>

#include "core/Modbus.h"

class CFakeModbus : public CModbus {
public:
    struct Answer {
        WORD wStatus;
        CByteArray bytes;  // what "arrived"; used only when wStatus is 0
    };

    WORD Transact(CByteArray& request, DWORD dwRequestLength, CByteArray& response,
                  DWORD dwResponseLength, BOOL bFlag) override {
        m_requests.emplace_back(request.begin(), request.begin() + dwRequestLength);
        m_expected.push_back(dwResponseLength);
        m_flags.push_back(bFlag);
        if (m_answers.empty()) {
            return 1;
        }
        Answer a = m_answers.front();
        if (m_answers.size() > 1 || !m_bRepeatLast) {
            m_answers.pop_front();
        }
        if (a.wStatus == 0) {
            response = a.bytes;
        }
        return a.wStatus;
    }
    BOOL IsConnected() override { return TRUE; }

    void Play(WORD wStatus, CByteArray bytes = {}) { m_answers.push_back({wStatus, bytes}); }

    std::deque<Answer> m_answers;
    bool m_bRepeatLast = false;
    std::vector<CByteArray> m_requests;
    std::vector<DWORD> m_expected;
    std::vector<BOOL> m_flags;
};
