#include "RegprobeApp.h"
#include "res/RegprobeResources.h"

int main(int argc, char** argv) {
    AfxSetResourceHandle(&RegprobeResources());
    // The application object lives in main, so it is gone before static
    // destruction begins and the connection collection, a static, outlives
    // it.
    CRegprobeApp theApp(argc, argv);
    return AfxWinMain(theApp);
}
