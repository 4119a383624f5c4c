#include "ConfigLoadProgress.h"

#include <QProgressDialog>

#include "JobWatch.h"
#include "connections/BackgroundJob.h"

bool RunConfigLoad(
    const std::shared_ptr<CConfigLoadJob>& pLoad, QWidget* pParent, const QString& strTitle,
    const QString& strLabel,
    const std::function<void(QProgressDialog&, const CConfigLoadJob::Progress&)>& pfnProgress) {
    // Records connect (and servers start) on the job's thread; this one
    // shows which record it is at.
    QProgressDialog progress(pParent);
    progress.setWindowTitle(strTitle);
    progress.setWindowModality(Qt::WindowModal);
    progress.setLabelText(strLabel);
    progress.setRange(0, 0);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    CJobWatch watch(
        CBackgroundJob::Start([pLoad](CBackgroundJob& job) { pLoad->Run(job); }), &progress, [&] {
            const CConfigLoadJob::Progress now = pLoad->GetProgress();
            if (now.nCount > 0) {
                progress.setRange(0, now.nCount);
                progress.setValue(now.nRecord - 1);
                progress.setLabelText(QString::fromStdString(std::to_string(now.nRecord) + " of " +
                                                             std::to_string(now.nCount) + ": " +
                                                             now.strName));
                if (pfnProgress) {
                    pfnProgress(progress, now);
                }
            }
            if (watch.Job().IsDone()) {
                progress.hide();
            }
        });
    if (!watch.Job().IsDone()) {
        progress.exec();
    }
    return watch.Job().IsDone();
}
