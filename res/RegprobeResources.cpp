#include "RegprobeResources.h"

#include <QtGlobal>

const CResourceModule& RegprobeResources() {
    static const CResourceModule module = [] {
        // The images live in this library's Qt resources; a static library
        // has to register them itself.
        Q_INIT_RESOURCE(regprobe);
        CResourceModule m;
        AddDialogTemplates(m);
        AddMenusAndBars(m);
        AddStringTable(m);
        return m;
    }();
    return module;
}
