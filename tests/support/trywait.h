#pragma once

// QTRY_VERIFY and QTRY_COMPARE look at their condition every 50 ms, so every wait costs
// a multiple of 50 ms however quickly the thing waited for happens. These wait the same
// way (the event loop runs, at most `timeout` ms) but look every few milliseconds, then
// check as QVERIFY and QCOMPARE do, with their messages.

#include <QtTest>

#define VL_TRY_VERIFY2_WITH_TIMEOUT(expr, message, timeout)                                                            \
    do {                                                                                                               \
        (void)QTest::qWaitFor([&]() { return static_cast<bool>(expr); }, timeout);                                     \
        QVERIFY2(expr, message);                                                                                       \
    } while (false)

#define VL_TRY_VERIFY_WITH_TIMEOUT(expr, timeout)                                                                      \
    do {                                                                                                               \
        (void)QTest::qWaitFor([&]() { return static_cast<bool>(expr); }, timeout);                                     \
        QVERIFY(expr);                                                                                                 \
    } while (false)

#define VL_TRY_COMPARE_WITH_TIMEOUT(actual, expected, timeout)                                                         \
    do {                                                                                                               \
        (void)QTest::qWaitFor([&]() { return (actual) == (expected); }, timeout);                                      \
        QCOMPARE(actual, expected);                                                                                    \
    } while (false)

#define VL_TRY_VERIFY(expr) VL_TRY_VERIFY_WITH_TIMEOUT(expr, 5000)
#define VL_TRY_VERIFY2(expr, message) VL_TRY_VERIFY2_WITH_TIMEOUT(expr, message, 5000)
#define VL_TRY_COMPARE(actual, expected) VL_TRY_COMPARE_WITH_TIMEOUT(actual, expected, 5000)
