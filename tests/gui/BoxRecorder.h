// Stands in for the message boxes and the error box: records what they were asked to show and
// answers with a chosen button.
#pragma once

#include "Dialogs.h"

#include <QString>
#include <vector>

struct RecordedBox {
    QString text;
    QString caption;
    TMessageKind kind;
};

class BoxRecorder {
public:
    BoxRecorder() {
        FPreviousMessage = SetMessageBoxHandler(
            [this](const QString& text, const QString& caption, TMessageKind kind) {
                messages.push_back({text, caption, kind});
                return kind == TMessageKind::Information ? IDOK : answer;
            });
        FPreviousError = SetErrorBoxHandler([this](const QString& text, const QString& caption) {
            errors.push_back({text, caption, TMessageKind::Information});
        });
    }
    ~BoxRecorder() {
        SetMessageBoxHandler(FPreviousMessage);
        SetErrorBoxHandler(FPreviousError);
    }
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    int answer = IDYES;
    std::vector<RecordedBox> messages;
    std::vector<RecordedBox> errors;

private:
    TMessageBoxHandler FPreviousMessage;
    TErrorBoxHandler FPreviousError;
};
