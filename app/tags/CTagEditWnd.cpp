#include "app/tags/CTagEditWnd.h"

#include "app/tags/TagText.h"

#include "app/AppContext.h"
#include "app/common/FailureReport.h"
#include "app/common/NameCollator.h"
#include "app/tags/EditText.h"
#include "app/tags/TagPanePainting.h"
#include "plugin-api/PluginApi.h"
#include "shell/GenreList.h"
#include "shell/NameTagRun.h"
#include "shell/RecentValues.h"
#include "shell/SettingNames.h"
#include "shell/SettingsStore.h"

#include <QCollator>
#include <QComboBox>
#include <QLineEdit>
#include <QPainter>

#include <algorithm>

namespace tonemirror::app {

namespace {

struct FieldInfo {
    std::int32_t tag;
    const char* name;         // object name of its box
    std::string_view setting; // recent values; empty for Genre, which offers the genre list
};

constexpr std::array<FieldInfo, CTagEditWnd::kFields> kFieldInfo{{
    {TagId_Title, "Title", shell::settings::kHelperTitles},
    {TagId_Artist, "Artist", shell::settings::kHelperArtists},
    {TagId_Album, "Album", shell::settings::kHelperAlbums},
    {TagId_Comment, "Comment", shell::settings::kHelperComments},
    {TagId_Year, "Year", shell::settings::kHelperYears},
    {TagId_Track, "Track", shell::settings::kHelperTracks},
    {TagId_Genre, "Genre", {}},
}};

constexpr int kLeftFields = 4; // Title, Artist, Album, Comment; the rest stand on the right
constexpr int kRowStep = 30;
constexpr int kLabelHeight = 24;
constexpr int kBoxHeight = 26;
// Longer values (lyrics in a comment) are written whole but not offered again in the drop list.
constexpr std::size_t kMaxRecentText = 1023;

} // namespace

CTagEditWnd::CTagEditWnd(AppContext& context, QWidget* parent)
    : QWidget(parent), context_(context), tags_(context.plugins) {
    setObjectName(QStringLiteral("Tonemirror:TagEditWnd"));
    setFont(tagPaneFont());
    createBoxes();
    layoutBoxes();
}

CTagEditWnd::~CTagEditWnd() {
    destroying_ = true;
    commitAndClear();
    storeRecentLists();
}

void CTagEditWnd::createBoxes() {
    for (int field = 0; field < kFields; ++field) {
        auto* box = new QComboBox(this);
        box->setObjectName(QLatin1String(kFieldInfo[static_cast<std::size_t>(field)].name));
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setMaxVisibleItems(20);
        box->setCompleter(nullptr); // the typed text is the value, never a completed one
        box->lineEdit()->setMaxLength(audio::TagAccess::kMaxTagText); // a long value shows whole
        fields_[static_cast<std::size_t>(field)].box = box;
        fillBox(field);
    }
}

void CTagEditWnd::fillBox(int field) {
    QComboBox* box = fields_[static_cast<std::size_t>(field)].box;
    const FieldInfo& info = kFieldInfo[static_cast<std::size_t>(field)];
    QStringList items;
    if (!info.setting.empty()) {
        for (const std::u16string& value :
             shell::parseQuotedList(context_.settings.readText(info.setting).value_or(u""))) {
            items << toQString(value);
        }
    } else {
        for (const std::u16string& genre : shell::genreNames()) {
            items << toQString(genre);
        }
        const QCollator collator = nameCollator();
        std::sort(items.begin(), items.end(),
                  [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    }
    items << unchangedText();
    box->clear();
    box->addItems(items);
    box->setCurrentIndex(-1);
}

QString CTagEditWnd::unchangedText() const {
    return context_.text(u"UNCHANGED_FIELD", u"<unchanged>");
}

bool CTagEditWnd::unchangedSelected(int field) const {
    const QComboBox* box = fields_[static_cast<std::size_t>(field)].box;
    // Typing over the selected item makes the typed text the value.
    return box->count() > 0 && box->currentIndex() == box->count() - 1 &&
           box->currentText() == box->itemText(box->count() - 1);
}

int CTagEditWnd::loadSelection(const std::vector<std::u16string>& files) {
    commitAndClear();
    for (const std::u16string& file : files) {
        loadFile(file);
    }
    update(); // the file count
    emit loaded(static_cast<int>(loaded_.size()));
    return static_cast<int>(loaded_.size());
}

void CTagEditWnd::loadFile(const std::u16string& path) {
    if (failed(tags_.open(path))) {
        return; // no tagger accepts it: not part of the selection
    }
    for (int field = 0; field < kFields; ++field) {
        if (unchangedSelected(field)) {
            continue;
        }
        Field& entry = fields_[static_cast<std::size_t>(field)];
        // A value too long to read whole is never shown, so it cannot be written back cut.
        const std::optional<std::u16string> value =
            tags_.readTag(kFieldInfo[static_cast<std::size_t>(field)].tag);
        if (loaded_.empty() && value) {
            entry.box->setEditText(toQString(*value));
            entry.remembered = *value;
            entry.shown = entry.box->currentText();
        } else if (!value || *value != entry.remembered) {
            entry.box->setCurrentIndex(entry.box->count() - 1);
            entry.remembered.clear();
        }
        entry.box->lineEdit()->setCursorPosition(0); // the start of a long value shows
    }
    loaded_.push_back(path);
    tags_.close();
}

void CTagEditWnd::commitAndClear() {
    if (!loaded_.empty()) {
        const std::vector<int> changed = changedFields();
        if (!changed.empty()) {
            writeFields(changed);
        }
    }
    clear();
}

std::vector<int> CTagEditWnd::changedFields() {
    std::vector<int> changed;
    for (int field = 0; field < kFields; ++field) {
        if (unchangedSelected(field)) {
            continue;
        }
        Field& entry = fields_[static_cast<std::size_t>(field)];
        const QString text = entry.box->currentText();
        if (text == entry.shown) {
            continue;
        }
        entry.remembered = trimmedEditText(text);
        changed.push_back(field);
        if (!entry.remembered.empty() && entry.remembered.size() <= kMaxRecentText &&
            !kFieldInfo[static_cast<std::size_t>(field)].setting.empty()) {
            pushRecent(field, entry.remembered);
        }
    }
    return changed;
}

void CTagEditWnd::pushRecent(int field, const std::u16string& value) {
    QComboBox* box = fields_[static_cast<std::size_t>(field)].box;
    std::vector<std::u16string> values;
    for (int i = 0; i + 1 < box->count(); ++i) {
        values.push_back(toU16(box->itemText(i)));
    }
    shell::pushRecentValue(values, value, shell::settings::kRecentTagValues);
    const QString typed = box->currentText();
    const QSignalBlocker block(box);
    while (box->count() > 1) {
        box->removeItem(0);
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        box->insertItem(static_cast<int>(i), toQString(values[i]));
    }
    box->setCurrentIndex(-1);
    box->setEditText(typed);
}

void CTagEditWnd::writeFields(const std::vector<int>& changed) {
    FailureReport failures;
    for (const std::u16string& file : loaded_) {
        if (failed(tags_.open(file))) {
            failures.add(file, tagFailureCause(tags_, context_.text(u"TAGS_CANNOT_OPEN",
                                                                    u"no tagger can open the file")));
            continue;
        }
        QString refused;
        for (const int field : changed) {
            const std::u16string& value = fields_[static_cast<std::size_t>(field)].remembered;
            if (failed(tags_.setTag(kFieldInfo[static_cast<std::size_t>(field)].tag, value.c_str(),
                                    static_cast<std::int32_t>(value.size()))) &&
                refused.isEmpty()) {
                refused = tagFailureCause(
                    tags_,
                    context_.text(u"TAGS_REFUSED", u"the file's format does not take some of the fields"));
            }
        }
        if (failed(tags_.close())) {
            failures.add(file,
                         tagFailureCause(
                             tags_, context_.text(u"TAGS_NOT_SAVED",
                                                  u"the changes could not be saved; the file is as it was")));
        } else if (!refused.isEmpty()) {
            failures.add(file, refused);
        }
    }
    const QString heading =
        context_.text(u"TAGS_WRITE_FAILED", u"Tags could not be written to %1 of %2 files:")
            .arg(failures.size())
            .arg(loaded_.size());
    failures.show(context_, destroying_ ? nullptr : this, heading);
}

void CTagEditWnd::clear() {
    loaded_.clear();
    for (Field& entry : fields_) {
        entry.remembered.clear();
        entry.shown.clear();
        entry.box->setCurrentIndex(-1);
        entry.box->clearEditText();
    }
    update();
}

void CTagEditWnd::storeRecentLists() {
    for (int field = 0; field < kFields; ++field) {
        const FieldInfo& info = kFieldInfo[static_cast<std::size_t>(field)];
        if (info.setting.empty()) {
            continue;
        }
        const QComboBox* box = fields_[static_cast<std::size_t>(field)].box;
        std::vector<std::u16string> values;
        for (int i = 0; i + 1 < box->count(); ++i) {
            values.push_back(toU16(box->itemText(i))); // the stored form drops double quotes
        }
        context_.settings.writeText(info.setting, shell::formatQuotedList(values));
    }
}

void CTagEditWnd::retranslate() {
    const QString unchanged = unchangedText();
    for (Field& entry : fields_) {
        entry.box->setItemText(entry.box->count() - 1, unchanged);
    }
    update();
}

QString CTagEditWnd::fieldLabel(int field) const {
    switch (field) {
    case 0:
        return context_.text(u"TAG_TITLE", u"Title");
    case 1:
        return context_.text(u"TAG_ARTIST", u"Artist");
    case 2:
        return context_.text(u"TAG_ALBUM", u"Album");
    case 3:
        return context_.text(u"TAG_COMMENT", u"Comment");
    case 4:
        return context_.text(u"TAG_YEAR", u"Year");
    case 5:
        return context_.text(u"TAG_TRACK", u"Track");
    default:
        return context_.text(u"TAG_GENRE", u"Genre");
    }
}

QString CTagEditWnd::countText() const {
    if (loaded_.size() == 1) {
        return context_.text(u"TAG_ONE_FILE", u"1 file");
    }
    return context_.text(u"TAG_FILES", u"%1 files").arg(loaded_.size());
}

void CTagEditWnd::layoutBoxes() {
    const TagPaneColumns columns = tagPaneColumns(width());
    for (int field = 0; field < kFields; ++field) {
        const bool left = field < kLeftFields;
        const int row = left ? field : field - kLeftFields;
        const int x = left ? columns.leftBoxX : columns.rightBoxX;
        const int width = left ? columns.leftBoxWidth : columns.rightBoxWidth;
        fields_[static_cast<std::size_t>(field)].box->setGeometry(x, 5 + row * kRowStep, width, kBoxHeight);
    }
}

void CTagEditWnd::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!isMinimized()) {
        layoutBoxes();
    }
}

void CTagEditWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintTagPaneBackground(painter, rect());
    const TagPaneColumns columns = tagPaneColumns(width());
    for (int field = 0; field < kFields; ++field) {
        const bool left = field < kLeftFields;
        const int row = left ? field : field - kLeftFields;
        const QRect label = left ? QRect(10, 5 + row * kRowStep, 90, kLabelHeight)
                                 : QRect(columns.rightLabelX, 5 + row * kRowStep, 90, kLabelHeight);
        drawTagPaneLabel(painter, label, fieldLabel(field));
    }
    if (!loaded_.empty()) {
        const int row = kFields - kLeftFields;
        drawTagPaneLabel(
            painter,
            QRect(columns.rightLabelX, 5 + row * kRowStep, 90 + 5 + columns.rightBoxWidth, kLabelHeight),
            countText());
    }
}

} // namespace tonemirror::app
