#pragma once

#include "platform/os/DesktopTrash.h"

#include <string>
#include <string_view>

namespace tonemirror::shell {

class CTranslator;

// The journal keeps why an action was refused or failed in English, so that every front end and
// every language reads the same record. This puts such a text into the user's language: the known
// reasons are matched (with what follows them: the system's words, a path, the trash's own reason)
// and translated; an unknown text is shown as it is.
std::u16string translateActionText(const CTranslator& translator, std::string_view why);

// The translation key of one of the trash's reasons (describeTrashProblem); null for None.
const char16_t* trashProblemKey(os::TrashProblem problem);

} // namespace tonemirror::shell
