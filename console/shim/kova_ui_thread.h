// Posting work to the user-interface thread: worker threads (the console's status and
// statistics threads) never touch a widget; they post a function that does, and it runs
// later on the user-interface thread's event loop, in posting order.
#pragma once

#include <functional>

class QObject;

// Runs work on the user-interface thread. With a context object, the work is dropped
// when the context is destroyed before it runs.
void KovaPostToUiThread(std::function<void()> work);
void KovaPostToUiThread(QObject *context, std::function<void()> work);
// True on the user-interface thread.
bool KovaIsUiThread();
