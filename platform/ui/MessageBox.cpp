#include "MessageBox.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

#include "ModalWindow.h"
#include "ResourceModule.h"
#include "WinApp.h"

namespace {
AFX_MESSAGEBOX_HOOK& Hook() {
    static AFX_MESSAGEBOX_HOOK hook;
    return hook;
}

// The window manager draws the caption in a bold face beside up to four
// buttons (icon, minimise, maximise, close) and the gaps around them: about
// two lines of text each.
constexpr int kCaptionButtonLines = 8;

// A box too narrow for its caption shows the application's name cut to
// "R...": the box is made at least as wide as its caption and the buttons.
void KeepCaptionWhole(QMessageBox& box) {
    auto* pGrid = qobject_cast<QGridLayout*>(box.layout());
    if (pGrid == nullptr) {
        return;
    }
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    const QFontMetrics fm(font);
    const int cxCaption =
        fm.horizontalAdvance(box.windowTitle()) + kCaptionButtonLines * fm.height();
    pGrid->addItem(new QSpacerItem(cxCaption, 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                   pGrid->rowCount(), 0, 1, pGrid->columnCount());
}

QWidget* OwnerWindow() {
    if (QWidget* pModal = QApplication::activeModalWidget()) {
        return pModal;
    }
    QWidget* pMain = AfxGetMainWnd();
    return pMain != nullptr && pMain->isVisible() ? pMain : nullptr;
}
}  // namespace

AFX_MESSAGEBOX_HOOK AfxSetMessageBoxHook(AFX_MESSAGEBOX_HOOK pfnHook) {
    AFX_MESSAGEBOX_HOOK previous = std::move(Hook());
    Hook() = std::move(pfnHook);
    return previous;
}

int AfxMessageBox(const CString& strText, UINT nType, UINT) {
    if (Hook()) {
        return Hook()(strText, nType);
    }
    QMessageBox box(OwnerWindow());
    box.setWindowTitle(QString::fromStdString(AfxGetAppName()));
    box.setText(QString::fromStdString(strText));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(QMessageBox::NoIcon);

    struct Button {
        QMessageBox::StandardButton button;
        int nResult;
    };
    std::vector<Button> buttons;
    switch (nType & MB_TYPEMASK) {
        case MB_OKCANCEL:
            buttons = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
            break;
        case MB_YESNOCANCEL:
            buttons = {{QMessageBox::Yes, IDYES},
                       {QMessageBox::No, IDNO},
                       {QMessageBox::Cancel, IDCANCEL}};
            break;
        case MB_YESNO:
            buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
            break;
        default:
            buttons = {{QMessageBox::Ok, IDOK}};
            break;
    }
    for (const Button& b : buttons) {
        box.addButton(b.button);
    }
    size_t nDefault = (nType & MB_DEFMASK) >> 8;
    box.setDefaultButton(buttons[nDefault < buttons.size() ? nDefault : 0].button);
    if (nType & MB_SYSTEMMODAL) {
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    }
    // Modal to its owner, as the system's boxes are, unless system-modal.
    bool bOwnerOnly = box.parentWidget() != nullptr && !(nType & MB_SYSTEMMODAL);
    KeepCaptionWhole(box);
    AfxPrepareModalWindow(&box);
    box.setWindowModality(bOwnerOnly ? Qt::WindowModal : Qt::ApplicationModal);
    box.exec();

    QAbstractButton* pClicked = box.clickedButton();
    for (const Button& b : buttons) {
        if (pClicked == box.button(b.button)) {
            return b.nResult;
        }
    }
    // Closed without a button: the cancel answer where there is one.
    return buttons.size() == 1 ? IDOK : IDCANCEL;
}

int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT) {
    return AfxMessageBox(AfxLoadString(nIDPrompt), nType);
}
