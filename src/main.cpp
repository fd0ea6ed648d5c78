#include "app/CatalogApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    theApp.InitInstance();
    return 0;
}
