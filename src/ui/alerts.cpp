#include "ui/alerts.h"

#include <cstdio>

#include <QCoreApplication>

namespace {

QPointer<AlertCenter> gShared;

QString tr(const char *text)
{
    return QCoreApplication::translate("Alert", text);
}

} // namespace

Alert::Alert(const QString &title, const QString &message, const QStringList &buttons, bool textField, int tag,
             Callback callback, QObject *parent)
    : QObject(parent), title_(title), message_(message), buttons_(buttons), textField_(textField), tag_(tag),
      callback_(std::move(callback))
{
}

void Alert::setEnteredText(const QString &text)
{
    if (text_ == text)
        return;
    text_ = text;
    emit enteredTextChanged();
}

void Alert::answer(int index)
{
    if (done_ || index < 0 || index >= buttons_.size())
        return;
    done_ = true;
    // The alert leaves before the callback runs: a callback may show the next one.
    emit answered(index);
    Callback callback = std::move(callback_);
    if (callback)
        callback(index, text_);
    deleteLater();
}

AlertCenter::AlertCenter(QObject *parent) : QObject(parent) {}

AlertCenter::~AlertCenter()
{
    if (gShared == this)
        gShared = nullptr;
}

AlertCenter *AlertCenter::shared()
{
    return gShared;
}

void AlertCenter::makeShared()
{
    gShared = this;
}

Alert *AlertCenter::show(Alert *alert)
{
    alert->setParent(this);
    queue_.append(alert);
    connect(alert, &Alert::answered, this, [this, alert] { remove(alert); });
    connect(alert, &QObject::destroyed, this, [this, alert] { remove(alert); });
    if (queue_.size() == 1)
        emit currentChanged();
    return alert;
}

void AlertCenter::remove(Alert *alert)
{
    const qsizetype i = queue_.indexOf(alert);
    if (i < 0)
        return;
    queue_.removeAt(i);
    if (i == 0)
        emit currentChanged();
}

namespace {

Alert *post(Alert *alert)
{
    if (AlertCenter *center = AlertCenter::shared())
        return center->show(alert);
    fprintf(stderr, "%s: %s\n", qPrintable(alert->title()), qPrintable(alert->message()));
    alert->deleteLater();
    return nullptr;
}

} // namespace

Alert *AlertMessage::show(const QString &title, const QString &message)
{
    return post(new Alert(title, message, {tr("OK")}, false, 0, {}));
}

Alert *AlertConfirm::show(const QString &title, const QString &message, std::function<void(int)> done, int tag)
{
    return post(new Alert(title, message, {tr("Cancel"), tr("OK")}, false, tag,
                          [done = std::move(done)](int button, const QString &) {
                              if (done)
                                  done(button);
                          }));
}

QString AlertPrompt::messageFor(const QString &message)
{
    return message.isEmpty() ? QStringLiteral("\n") : message;
}

Alert *AlertPrompt::show(const QString &title, const QString &message, const QString &cancelTitle,
                         const QString &okTitle, std::function<void(int, const QString &)> done, const QString &text,
                         int tag)
{
    auto *alert = new Alert(title, messageFor(message), {cancelTitle, okTitle}, true, tag, std::move(done));
    alert->setEnteredText(text);
    return post(alert);
}
