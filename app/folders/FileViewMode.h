#pragma once

namespace tonemirror::app {

// How the Folders page's file list shows its items. The numbers are the commands of the View menus.
enum class FileViewMode { MediumIcons = 111, SmallIcons = 112, List = 113, Details = 114 };

} // namespace tonemirror::app
