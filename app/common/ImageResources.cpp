#include "app/common/ImageResources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must stand outside any namespace.
static void registerImages() {
    Q_INIT_RESOURCE(images);
}

namespace tonemirror::app {

void loadImageResources() {
    static const bool loaded = (registerImages(), true);
    (void)loaded;
}

} // namespace tonemirror::app
