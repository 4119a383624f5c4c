// A move-only owner of one file descriptor: closed exactly once, by whoever
// holds it last, on every path out.
#pragma once

#include <unistd.h>

#include <utility>

class CUniqueFd {
public:
    CUniqueFd() = default;
    explicit CUniqueFd(int hFd) : m_hFd(hFd) {}
    ~CUniqueFd() { Reset(); }

    CUniqueFd(CUniqueFd&& other) noexcept : m_hFd(other.Release()) {}
    CUniqueFd& operator=(CUniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;

    int Get() const { return m_hFd; }
    bool IsValid() const { return m_hFd >= 0; }
    explicit operator bool() const { return IsValid(); }

    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(m_hFd, -1); }

    // Closes what is held (if anything) and takes hFd. Returns close's
    // result for the old descriptor, 0 when there was none.
    int Reset(int hFd = -1) {
        const int hOld = std::exchange(m_hFd, hFd);
        return hOld >= 0 ? ::close(hOld) : 0;
    }

private:
    int m_hFd = -1;
};
