#pragma once
// Acts on a modal window once it is up: checks every few milliseconds for the
// active modal widget of type T, then runs the action on it. Past the
// deadline the modal widget is rejected, so a failing test cannot hang.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <memory>

template <typename T>
void WhenModal(std::function<void(T*)> action, int deadlineMs = 5000) {
  auto* poll = new QTimer;
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QObject::connect(poll, &QTimer::timeout, [poll, clock, action, deadlineMs] {
    if (auto* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      action(modal);
    } else if (clock->elapsed() > deadlineMs) {
      poll->stop();
      poll->deleteLater();
      if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget())) other->reject();
    }
  });
  poll->start(5);
}
