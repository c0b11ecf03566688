// CAboutDlg: "About KOVA", the installed components and their versions as the registry
// holds them: "QEL <market>" for each installed market's VERSION, then the values under
// SOFTWARE\QEL_IP\COMMON. The first value missing shows "QEL Setup Error." and ends the
// list there.
#pragma once

#include "console/shim/kova_dialog.h"

class CLogger;
class CListCtrl;
class QLabel;

class CAboutDlg : public CDialog
{
    Q_OBJECT

  public:
    enum : int32_t
    {
        IDD = 100,
        IDC_LIST_COMPONENTS = 1035,
    };

    explicit CAboutDlg(CLogger *logger = nullptr, QWidget *parent = nullptr);

    bool OnInitDialog() override;
    void DisplayInstalledComponents();
    CListCtrl *List() const { return m_list; }
    CLogger *Logger() const { return m_logger; }

  private:
    CLogger *m_logger;
    CListCtrl *m_list;
    QLabel *m_icon;
};
