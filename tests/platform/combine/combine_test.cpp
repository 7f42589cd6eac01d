#include <gtest/gtest.h>
#include <morvik/platform/combine.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace combine {
namespace {

class Model : public ObservableObject {
 public:
  Published<int> count{*this, 0};
  Published<std::string> name{*this, "start"};
};

TEST(PublishedTest, WillChangeAndProjectedPublisherRunBeforeTheValueIsStored) {
  Model model;
  std::vector<std::string> log;
  auto a = model.objectWillChange().sink([&] { log.push_back("will:" + std::to_string(model.count.get())); });
  auto b = model.count.projectedValue().sink([&](const int& v) {
    log.push_back("value:" + std::to_string(v) + " stored:" + std::to_string(model.count.get()));
  });
  model.count = 5;
  model.count = 5;  // an equal value is announced too
  EXPECT_EQ(model.count.get(), 5);
  EXPECT_EQ(log, (std::vector<std::string>{"value:0 stored:0", "will:0", "value:5 stored:0", "will:5",
                                           "value:5 stored:5"}));
  // Every published property of the object shares its objectWillChange.
  log.clear();
  model.name = "next";
  EXPECT_EQ(log, (std::vector<std::string>{"will:5"}));
}

TEST(PublishedTest, ProjectedPublisherOutlivesItsObject) {
  // A $property publisher kept after its object is gone gives the last value
  // and nothing more (it used to read the destroyed property).
  auto model = std::make_unique<Model>();
  auto publisher = model->name.projectedValue();
  std::vector<std::string> seen;
  auto kept = publisher.sink([&](const std::string& v) { seen.push_back(v); });
  model->name = "last";
  model.reset();
  auto late = publisher.sink([&](const std::string& v) { seen.push_back("late:" + v); });
  EXPECT_EQ(seen, (std::vector<std::string>{"start", "last", "late:last"}));
}

TEST(AnyCancellableTest, NoCallAfterCancelOrDestruction) {
  PassthroughSubject<int> subject;
  std::vector<int> first, second, third;
  {
    auto scoped = subject.sink([&](const int& v) { first.push_back(v); });
    subject.send(1);
  }
  subject.send(2);  // destroyed: gone

  AnyCancellable later;
  // A subscriber that cancels another during the same send: the cancelled
  // one is not called any more, even for the value being sent.
  auto canceller = subject.sink([&](const int& v) {
    second.push_back(v);
    later.cancel();
  });
  later = subject.sink([&](const int& v) { third.push_back(v); });
  subject.send(3);
  subject.send(4);
  EXPECT_EQ(first, (std::vector<int>{1}));
  EXPECT_EQ(second, (std::vector<int>{3, 4}));
  EXPECT_TRUE(third.empty());
  EXPECT_EQ(subject.subscriberCount(), 1u);

  // Moving keeps the subscription; cancelling twice is harmless.
  AnyCancellable moved = std::move(canceller);
  subject.send(5);
  moved.cancel();
  moved.cancel();
  subject.send(6);
  EXPECT_EQ(second, (std::vector<int>{3, 4, 5}));
}

// An owner that keeps a subscription to its own publisher and is captured
// weakly by it: releasing the owner frees it, and a cancellable that
// outlives its publisher cancels harmlessly.
class Owner : public ObservableObject, public std::enable_shared_from_this<Owner> {
 public:
  Published<bool> flag{*this, false};
  int seen = 0;
  void watch() {
    std::weak_ptr<Owner> weak = weak_from_this();
    subscription = objectWillChange().sink([weak] {
      if (auto self = weak.lock()) ++self->seen;
    });
  }
  AnyCancellable subscription;
};

TEST(AnyCancellableTest, WeakCaptureDoesNotKeepTheOwnerAlive) {
  std::weak_ptr<Owner> weak;
  AnyCancellable outliving;
  {
    auto owner = std::make_shared<Owner>();
    owner->watch();
    owner->flag = true;
    EXPECT_EQ(owner->seen, 1);
    outliving = owner->flag.projectedValue().sink([](const bool&) {});
    weak = owner;
  }
  EXPECT_TRUE(weak.expired());
  outliving.cancel();
}

TEST(PassthroughSubjectTest, SendSubscribeAndCancelFromSeveralThreads) {
  for (int threads : {2, 4}) {
    PassthroughSubject<int> subject;
    std::atomic<int> received{0};
    auto steady = subject.sink([&](const int&) { received.fetch_add(1); });
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&] {
        for (int i = 0; i < 500; ++i) {
          auto transient = subject.sink([](const int&) {});
          subject.send(i);
        }
      });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(received.load(), threads * 500);
    EXPECT_EQ(subject.subscriberCount(), 1u);
  }
}

}  // namespace
}  // namespace combine
