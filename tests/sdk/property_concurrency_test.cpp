// Properties under concurrent use: writers, readers, callbacks that read the
// same module and readers of another module's property, all at once, while
// the property list changes.
#include <atomic>

#include "sdk_test_support.h"

namespace velquor::test {
namespace {

using Def = DAXOPropertyDefinition;
const Def kCount = AnyTimeProperty("count", new DAXOPropertyValue(0L));
const Def kMirror = AnyTimeProperty("mirror", new DAXOPropertyValue(0L));
const Def kChoice = AnyTimeProperty("choice", new DAXOPropertyValue("a|b|c|d", 0));
const Def kScratch = AnyTimeProperty("scratch", new DAXOPropertyValue(0L));

using PropertyConcurrency = PropertyTest;

TEST_F(PropertyConcurrency, ConcurrentReadsWritesAndListChangesStayConsistent) {
  TestModule m("m", true, true);
  DAXOProperty* count = m.NewProperty(kCount);
  DAXOProperty* mirror = m.NewProperty(kMirror);
  DAXOProperty* choice = m.NewProperty(kChoice);
  // The callback copies the new value into another property of the same
  // module: a recursive use of the property lock, under contention.
  count->SetSetCallback([](DAXOProperty& p) {
    p.Owner()->DirectSet(*p.Owner()->Property("mirror"), p.IntegerValue());
  });

  constexpr int kWriters = 3;
  constexpr int kWrites = 400;
  std::atomic<int> writersLeft{kWriters};
  std::atomic<int> torn{0};
  ThreadGroup group;  // all start together
  for (int w = 0; w < kWriters; ++w) {
    group.Add([&, w] {
      for (int i = 0; i < kWrites; ++i) {
        count->Set(static_cast<long>(w * kWrites + i));
        choice->Set(static_cast<long>(i % 4));
        choice->Set(i % 2 == 0 ? "b" : "d");
      }
      writersLeft.fetch_sub(1);
    });
  }
  // Readers: an enumeration's text always matches one of its values, and the
  // mirror is always a value some writer wrote.
  for (int r = 0; r < 2; ++r) {
    group.Add([&] {
      while (writersLeft.load() > 0) {
        DAXOString text;
        if (!DAXOModule::Get(m, *choice, text)) torn.fetch_add(1);
        if (!(text == "a" || text == "b" || text == "c" || text == "d")) torn.fetch_add(1);
        long value = -1;
        mirror->Get(value);
        if (value < 0 || value >= kWriters * kWrites) torn.fetch_add(1);
        long load = -1;
        m.Property("CPULoad")->Get(load);
        if (load != 0) torn.fetch_add(1);
      }
    });
  }
  // The list changes while the others look properties up.
  group.Add([&] {
    while (writersLeft.load() > 0) {
      DAXOProperty* scratch = m.NewProperty(kScratch);
      if (!m.HasProperty("count")) torn.fetch_add(1);
      m.RemoveProperty(scratch);
      bool found = false;
      DAXO::GetStringProperty("m.choice", &found);
      if (!found) torn.fetch_add(1);
    }
  });
  group.Join();

  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(m.NbProperties(), 3);
  EXPECT_EQ(mirror->IntegerValue(), count->IntegerValue())
      << "the callback ran after the last write";
  EXPECT_EQ(DAXO::Property("m.scratch"), nullptr);
}

// Readers by name race with the removal of the property and with the
// destruction of its module: each read finds the value whole or finds
// nothing, never a property or module that is gone (ASan would see it).
TEST_F(PropertyConcurrency, ReadsByNameNeverReachARemovedPropertyOrADestroyedModule) {
  const Def kWord = AnyTimeProperty("word", new DAXOPropertyValue("hello"));
  constexpr int kRounds = 300;
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::atomic<int> seen{0};
  ThreadGroup group;
  for (int r = 0; r < 2; ++r) {
    group.Add([&] {
      while (!done.load()) {
        bool found = false;
        const DAXOString word = DAXO::GetStringProperty("gone.word", &found);
        if (found ? !(word == "hello") : !(word == "")) torn.fetch_add(1);
        if (found) seen.fetch_add(1);
      }
    });
  }
  group.Add([&] {
    for (int i = 0; i < kRounds; ++i) {
      TestModule m("gone");
      DAXOProperty* word = m.NewProperty(kWord);
      if (i % 2 == 0) m.RemoveProperty(word);  // else it goes with the module
    }
    done.store(true);
  });
  group.Join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(DAXO::Property("gone.word"), nullptr);
}

}  // namespace
}  // namespace velquor::test
