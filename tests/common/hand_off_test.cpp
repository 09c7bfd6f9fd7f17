// The hand-off to an owner thread, on the platform's own threads and message queue.
#include "common/hand_off.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/doubles/pump_until.h"

namespace kestrava {
namespace {

using testing::PumpUntil;

TEST(HandOff, WorkFromAnotherThreadRunsInTheOwnerInOrderAndSendWaitsForIt) {
  HandOff handOff;
  const std::thread::id owner = std::this_thread::get_id();
  std::vector<std::string> ran;  // written only in the owner thread
  bool sendReturned = false, sent = false, allInOwner = true;
  std::string caught;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    handOff.Post([&] { ran.push_back("post 1"); });
    handOff.Post([&] { ran.push_back("post 2"); });
    sent = handOff.Send([&] {
      allInOwner = allInOwner && std::this_thread::get_id() == owner;
      ran.push_back("send");
    });
    sendReturned = true;  // read below only after the join
    try {
      handOff.Send([] { throw std::runtime_error("from the owner"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(ran, (std::vector<std::string>{"post 1", "post 2", "send"}));
  EXPECT_TRUE(sent && sendReturned && allInOwner);
  EXPECT_EQ(caught, "from the owner");

  bool atOnce = false;
  EXPECT_TRUE(handOff.Send([&] { atOnce = true; }));  // the owner itself: no pumping needed
  EXPECT_TRUE(atOnce);
}

TEST(HandOff, OnceClosedNothingRunsAndNoSenderStaysBlocked) {
  HandOff handOff;
  bool ran = false;
  std::atomic<int> queued{0};
  std::atomic<bool> senderBack{false};
  bool waitingSend = true, lateSend = true;
  std::thread worker([&] {
    handOff.Post([&] { ran = true; });
    ++queued;
    waitingSend = handOff.Send([&] { ran = true; });  // queued, never served before the close
    senderBack = true;
  });
  // Let the Send be queued without serving it, then close instead.
  while (queued.load() == 0) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  handOff.Close();
  // The sender must come back although its work never ran.
  EXPECT_TRUE(PumpUntil([&] { return senderBack.load(); }));
  worker.join();
  std::thread late([&] {
    lateSend = handOff.Send([&] { ran = true; });
    handOff.Post([&] { ran = true; });
  });
  late.join();
  while (PumpOneMessage()) {
  }
  EXPECT_FALSE(waitingSend);
  EXPECT_FALSE(lateSend);
  EXPECT_FALSE(ran);
}

TEST(HandOff, WorkMayDestroyTheHandOffItCameThrough) {
  auto handOff = std::make_unique<HandOff>();
  bool second = false;
  std::thread worker([&] {
    handOff->Post([&] { handOff.reset(); });
    handOff->Post([&] { second = true; });  // dropped with the hand-off
  });
  worker.join();
  EXPECT_TRUE(PumpUntil([&] { return handOff == nullptr; }));
  while (PumpOneMessage()) {
  }
  EXPECT_FALSE(second);
}

}  // namespace
}  // namespace kestrava
