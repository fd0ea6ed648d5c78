#include "app/CatalogApp.h"

#include "app/CatalogDlg.h"
#include "platform/desktop/DescriptorType.h"

CCatalogApp theApp;

bool CCatalogApp::InitInstance()
{
    RegisterDescriptorType();
    CCatalogDlg dlg;
    dlg.exec();
    return false;
}

void CCatalogApp::RegisterDescriptorType()
{
    // A failure leaves the type unknown to the desktop; the program runs on.
    DescriptorType::Register();
}
