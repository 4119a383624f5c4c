#include "RegprobeView.h"

#include "res/Resource.h"

IMPLEMENT_DYNAMIC(CRegprobeView, CFormView)

CRegprobeView::CRegprobeView() : CFormView(IDD_REGPROBE_FORM) {}

CRegprobeView::~CRegprobeView() = default;
