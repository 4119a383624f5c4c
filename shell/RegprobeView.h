// The device test view: the form of dialog template 101.
#pragma once

#include "platform/ui/FormView.h"

class CRegprobeView : public CFormView {
    Q_OBJECT
    DECLARE_DYNAMIC(CRegprobeView)

public:
    CRegprobeView();
    ~CRegprobeView() override;
};
