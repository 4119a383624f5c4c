// Connections, dialog 131: lists the application's connections, adds one of
// any kind through its kind's dialog, edits or removes the selected one, and
// saves the collection to or loads it from "Regpr.cfg". Every change acts on
// the collection at once.
#pragma once

#include "platform/ui/Dialog.h"

class QComboBox;
class QListWidget;
class QPushButton;

class CConnectionsDlg : public CDialog {
    Q_OBJECT

public:
    explicit CConnectionsDlg(QWidget* pParent = nullptr);

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;

    void FillControls();
    void OnAdd();
    void OnEdit();
    void OnRemove();
    void OnSave();
    void OnLoad();

    QListWidget* m_listConnections = nullptr;
    QPushButton* m_btnRemove = nullptr;
    QPushButton* m_btnEdit = nullptr;
    QPushButton* m_btnAdd = nullptr;
    QComboBox* m_comboType = nullptr;
};
