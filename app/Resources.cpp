#include "app/Resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE names a function at global scope.
static void registerImages() {
    Q_INIT_RESOURCE(images);
}

namespace tonemirror::app {

void loadImages() {
    static const bool loaded = (registerImages(), true);
    (void)loaded;
}

} // namespace tonemirror::app
