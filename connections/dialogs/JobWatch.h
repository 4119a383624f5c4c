// The GUI thread's side of a background job: runs a handler after each wake
// of the job, and abandons the job when dropped, so a late result reaches
// nobody.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>

#include "connections/BackgroundJob.h"

class CJobWatch {
public:
    CJobWatch(std::shared_ptr<CBackgroundJob> pJob, QObject* pParent,
              std::function<void()> pfnOnWake)
        : m_pJob(std::move(pJob)) {
        CBackgroundJob* pRaw = m_pJob.get();
        // The handler may drop this watch: it comes last, after the wake is
        // taken.
        auto onWake = [pRaw, pfnOnWake] {
            pRaw->TakeWake();
            pfnOnWake();
        };
        if (m_pJob->GetWakeFd() >= 0) {
            auto* pNotifier =
                new QSocketNotifier(m_pJob->GetWakeFd(), QSocketNotifier::Read, pParent);
            QObject::connect(pNotifier, &QSocketNotifier::activated, pNotifier, onWake);
            m_pNotifier = pNotifier;
            m_pSource = pNotifier;
        } else {
            auto* pTimer = new QTimer(pParent);
            QObject::connect(pTimer, &QTimer::timeout, pTimer, onWake);
            pTimer->start(20);
            m_pSource = pTimer;
        }
    }
    ~CJobWatch() {
        m_pJob->Abandon();
        if (m_pSource != nullptr) {
            // Not deleted in its own signal; no handler runs after this, and
            // the descriptor, which the job may close, is no longer watched.
            if (m_pNotifier != nullptr) {
                m_pNotifier->setEnabled(false);
            }
            QObject::disconnect(m_pSource, nullptr, nullptr, nullptr);
            m_pSource->deleteLater();
        }
    }
    CJobWatch(const CJobWatch&) = delete;
    CJobWatch& operator=(const CJobWatch&) = delete;

    CBackgroundJob& Job() const { return *m_pJob; }

private:
    std::shared_ptr<CBackgroundJob> m_pJob;
    QPointer<QObject> m_pSource;
    QPointer<QSocketNotifier> m_pNotifier;
};
