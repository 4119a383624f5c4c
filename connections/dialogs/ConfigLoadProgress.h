// A load of connection records behind a modal progress window: the record
// it is at ("2 of 3: name"), and Cancel, which gives up and keeps what was
// loaded so far. The Connections dialog's Load and a workspace's opening
// both load this way.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "connections/ConfigLoadJob.h"

class QProgressDialog;
class QWidget;

// Runs pLoad on a job's thread until it ends or the user gives up; true
// when it ran to its end. pfnProgress (tests) sees each progress.
bool RunConfigLoad(const std::shared_ptr<CConfigLoadJob>& pLoad, QWidget* pParent,
                   const QString& strTitle, const QString& strLabel,
                   const std::function<void(QProgressDialog&, const CConfigLoadJob::Progress&)>&
                       pfnProgress = nullptr);
