#pragma once
// The tests' Ui: the core's answering Ui, which records what is shown and answers from
// queues the test fills.

#include "shell/answering_ui.hpp"

namespace tarvik::test {
using FakeUi = AnsweringUi;
}  // namespace tarvik::test
