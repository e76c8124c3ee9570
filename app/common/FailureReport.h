#pragma once

#include <QString>

#include <string>
#include <vector>

class QWidget;

namespace tonemirror::app {

struct AppContext;

// Files an operation could not handle, each with the reason in plain words, told to the user in one
// message after the operation instead of vanishing silently.
class FailureReport {
public:
    void add(const std::u16string& path, const QString& reason);
    bool empty() const { return failures_.empty(); }
    std::size_t size() const { return failures_.size(); }

    // "<heading>" then one line per file (the first ten, then how many more).
    QString text(const AppContext& context, const QString& heading) const;
    // A warning with text(heading); nothing when no file failed.
    void show(const AppContext& context, QWidget* parent, const QString& heading) const;

private:
    struct Failure {
        std::u16string path;
        QString reason;
    };
    std::vector<Failure> failures_;
};

} // namespace tonemirror::app
