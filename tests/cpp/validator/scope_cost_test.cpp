// The scope's labels and types on hostile but valid queries: a variable
// bound again and again, property access on a variable with many labels,
// many aliases of one variable, FOREACH rebinding and long WITH chains each
// keep their findings, and their cost grows with the text, not faster.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common.hpp"
#include "parser/names.hpp"
#include "validator/semantic.hpp"
#include "validator/torvane.hpp"

namespace torvane::validator {
namespace {

using testing::Finding;

constexpr std::size_t kSchemaNames = 300;

// L0..L299 and T0..T299 (Ti from Li to Li), each with the one property `a`.
schema::Schema many_names_schema() {
  schema::Schema s;
  for (std::size_t i = 0; i < kSchemaNames; ++i) {
    const std::string n = std::to_string(i);
    s.nodes["L" + n] = HashSet{"a"};
    s.relationships["T" + n] = schema::RelationshipDef{"L" + n, "L" + n, HashSet{"a"}};
  }
  return s;
}

std::string joined(std::size_t k, const std::string& separator,
                   const std::function<std::string(std::size_t)>& item) {
  std::string out;
  for (std::size_t i = 0; i < k; ++i) (i ? out += separator : out) += item(i);
  return out;
}

std::string labels(std::size_t k) {
  return joined(k, "", [](std::size_t i) { return ":L" + std::to_string(i); });
}

std::string types(std::size_t k) {
  return joined(k, "|", [](std::size_t i) { return "T" + std::to_string(i); });
}

std::string repeated(std::size_t k, const std::string& item, const std::string& separator) {
  return joined(k, separator, [&](std::size_t) { return item; });
}

// `variable.zz` on the first k of L0..L299 (or T0..T299), one finding each.
std::vector<Finding> lacking_zz(const std::string& variable, std::size_t k, bool type = false) {
  std::vector<Finding> out;
  for (std::size_t i = 0; i < std::min(k, kSchemaNames); ++i) {
    const std::string n = std::to_string(i);
    out.push_back({type ? "E304" : "E303",
                   "Unknown property 'zz' on variable '" + variable + "' with " +
                       (type ? "relationship type :T" : "label :L") + n + ", did you mean .a?"});
  }
  return out;
}

struct CostCase {
  const char* shape;
  std::function<std::string(std::size_t)> query;
  // The findings besides those of unknown labels and types (E201, E211),
  // which are counted: one per name past the schema's.
  std::function<std::vector<Finding>(std::size_t)> findings;
  std::function<std::size_t(std::size_t)> unknown;
};

std::size_t past_schema(std::size_t k) { return k > kSchemaNames ? k - kSchemaNames : 0; }

const Finding kUnlabeled{"W201",
                         "MATCH contains an unlabeled node with no WHERE clause; this will scan "
                         "all nodes in the graph"};

const Finding kDisconnected{"W101",
                            "MATCH pattern contains disconnected parts that will produce a "
                            "Cartesian product; add a relationship or shared variable to connect "
                            "them"};

const std::vector<CostCase>& cost_cases() {
  static const std::vector<CostCase> cases = {
      {"a variable bound again in each pattern part",
       [](std::size_t k) {
         return "MATCH " +
                joined(k, ", ", [](std::size_t i) { return "(n:L" + std::to_string(i) + ")"; }) +
                " RETURN n.zz";
       },
       [](std::size_t k) { return lacking_zz("n", k); }, past_schema},
      {"a variable bound again with all its labels",
       [](std::size_t k) {
         return "MATCH (n" + labels(k) + ") MATCH (n" + labels(k) + ") RETURN n.zz";
       },
       [](std::size_t k) { return lacking_zz("n", k); },
       [](std::size_t k) { return 2 * past_schema(k); }},
      {"k accesses to a variable with k labels",
       [](std::size_t k) {
         return "MATCH (n" + labels(k) + ") RETURN " + repeated(k, "n.a", ", ") + ", n.zz";
       },
       [](std::size_t k) { return lacking_zz("n", k); }, past_schema},
      {"k accesses to a relationship with k types",
       [](std::size_t k) {
         return "MATCH ()-[r:" + types(k) + "]->() RETURN " + repeated(k, "r.a", ", ") + ", r.zz";
       },
       [](std::size_t k) {
         auto out = lacking_zz("r", k, true);
         out.insert(out.begin(), kUnlabeled);
         return out;
       },
       past_schema},
      {"a SET chain of k keys on a variable with k labels",
       [](std::size_t k) {
         return "MATCH (n" + labels(k) + ") SET n" + repeated(k, ".a", "") + " = 1";
       },
       [](std::size_t) { return std::vector<Finding>{}; }, past_schema},
      {"k aliases of a variable with k labels",
       [](std::size_t k) {
         return "MATCH (n" + labels(k) + ") WITH " +
                joined(k, ", ", [](std::size_t i) { return "n AS m" + std::to_string(i); }) +
                " RETURN m0.zz";
       },
       [](std::size_t k) { return lacking_zz("m0", k); }, past_schema},
      {"k aliases, each given a label of its own",
       [](std::size_t k) {
         return "MATCH (n" + labels(k) + ") WITH " +
                joined(k, ", ", [](std::size_t i) { return "n AS m" + std::to_string(i); }) +
                " MATCH " +
                joined(k, ", ",
                       [](std::size_t i) {
                         return "(m" + std::to_string(i) + ":L" + std::to_string(i % 7) + "x)";
                       }) +
                " RETURN m1.zz";
       },
       [](std::size_t k) {
         auto out = lacking_zz("m1", k);
         out.insert(out.begin(), kDisconnected);
         return out;
       },
       [](std::size_t k) { return past_schema(k) + k; }},
      {"FOREACH binding a variable with k labels k times",
       [](std::size_t k) {
         return "MATCH (n" + labels(k) + ") FOREACH (x IN [1] | CREATE " +
                repeated(k, "(n)", ", ") + " SET n.zz = 1)";
       },
       [](std::size_t k) { return lacking_zz("n", k); }, past_schema},
      {"k FOREACH clauses, each giving a variable with k labels a new one",
       [](std::size_t k) {
         return "MATCH (n" + labels(k) + ") " +
                joined(k, " ",
                       [](std::size_t i) {
                         return "FOREACH (x IN [1] | CREATE (n:X" + std::to_string(i) + "))";
                       }) +
                " RETURN n.zz";
       },
       [](std::size_t k) { return lacking_zz("n", k); },
       [](std::size_t k) { return past_schema(k) + k; }},
      {"a chain of k WITH clauses",
       [](std::size_t k) {
         return "MATCH (n" + labels(k) + ") " + repeated(k, "WITH n", " ") + " RETURN n.zz";
       },
       [](std::size_t k) { return lacking_zz("n", k); }, past_schema},
      {"k parts, each sharing a variable with an alias and giving it a label",
       [](std::size_t k) {
         return "MATCH (n:L0) " +
                joined(k, " ",
                       [](std::size_t i) {
                         return "WITH n, n AS m MATCH (n:L" + std::to_string(i + 1) + ")";
                       }) +
                " RETURN n.zz, m.a";
       },
       [](std::size_t k) { return lacking_zz("n", k + 1); },
       [](std::size_t k) { return past_schema(k + 1); }},
      {"k aliases of a list grown apart from others past the depth limit, each given a label",
       [](std::size_t k) {
         return "MATCH (n" + labels(k) + ") " +
                joined(6, " ",
                       [](std::size_t i) {
                         const std::string n = std::to_string(i);
                         return "WITH n AS a, n AS c MATCH (a:Y" + n + "), (c:Z" + n +
                                ") WITH c AS n";
                       }) +
                " WITH " +
                joined(k, ", ", [](std::size_t i) { return "n AS m" + std::to_string(i); }) +
                " MATCH " +
                joined(k, ", ",
                       [](std::size_t i) {
                         return "(m" + std::to_string(i) + ":W" + std::to_string(i) + ")";
                       }) +
                " RETURN m1.zz";
       },
       [](std::size_t k) {
         auto out = lacking_zz("m1", k);
         out.insert(out.begin(), 7, kDisconnected);
         return out;
       },
       [](std::size_t k) { return past_schema(k) + 12 + k; }},
      // Labels written on a node, against an inline map's keys and the
      // endpoints of many types.
      {"an inline map of k keys on a node of k unknown labels",
       [](std::size_t k) {
         return "MATCH (n" + repeated(k, ":X", "") + " {" +
                joined(k, ", ", [](std::size_t i) { return "c" + std::to_string(i) + ": 1"; }) +
                "}) RETURN 1";
       },
       [](std::size_t) { return std::vector<Finding>{}; }, [](std::size_t k) { return k; }},
      {"k types between a node of k labels and another",
       [](std::size_t k) {
         return "MATCH (a" + repeated(k, ":X", "") + ":L1)-[:" + repeated(k, "T1", "|") +
                "]->(b) RETURN 1";
       },
       [](std::size_t) { return std::vector<Finding>{kUnlabeled}; },
       [](std::size_t k) { return k; }},
  };
  return cases;
}

struct Outcome {
  std::vector<Finding> findings;  // but for unknown names
  std::size_t unknown = 0;
  std::size_t work = 0;
};

Outcome run(const Torvane& torvane, const std::string& query) {
  const std::size_t before = semantic::NameList::work();
  const ValidationResult r = torvane.validate(query);
  Outcome out;
  out.work = semantic::NameList::work() - before;
  for (Finding& f : testing::findings(r)) {
    if (f.code == "E201" || f.code == "E211") {
      ++out.unknown;
    } else {
      out.findings.push_back(std::move(f));
    }
  }
  return out;
}

TEST(ScopeCost, FindingsKeptAndWorkLinear) {
  const Torvane torvane(many_names_schema());
  for (const CostCase& c : cost_cases()) {
    SCOPED_TRACE(c.shape);
    std::vector<Outcome> outcomes;
    for (const std::size_t k : {std::size_t{20}, std::size_t{1000}, std::size_t{2000}}) {
      SCOPED_TRACE(k);
      Outcome o = run(torvane, c.query(k));
      EXPECT_EQ(o.findings, c.findings(k));
      EXPECT_EQ(o.unknown, c.unknown(k));
      outcomes.push_back(std::move(o));
    }
    // Twice the names, about twice the steps (a rehash falls on either side).
    EXPECT_LE(outcomes[2].work, 2.5 * static_cast<double>(outcomes[1].work) + 64)
        << outcomes[1].work << " then " << outcomes[2].work;
  }
}

// Lists passed on and grown apart, as WITH aliases and FOREACH make them,
// each against a plain copy: every list keeps exactly the names it was
// given, in order, and finds a name however it is written. Short and long
// lists, buffers grown at their end, shared, forked and copied past the
// depth limit all occur.
TEST(NameList, SharedListsKeepTheirOwnNames) {
  std::vector<std::string> pool;
  for (int i = 0; i < 40; ++i) pool.push_back("N" + std::to_string(i));
  pool.push_back("`N1`");
  pool.push_back("`a``b`");
  pool.push_back("`a``b`x");
  const auto same = [](std::string_view a, std::string_view b) {
    return parser::NameOf(a).get() == parser::NameOf(b).get();
  };
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    std::deque<std::vector<std::string>> kept;  // what first bindings view
    std::vector<semantic::NameList> lists(1);
    std::vector<std::vector<std::string_view>> models(1);
    for (int step = 0; step < 300; ++step) {
      const std::size_t at = rng() % lists.size();
      const std::string& name = pool[rng() % pool.size()];
      switch (rng() % 4) {
        case 0:  // passed on
          lists.push_back(lists[at]);
          models.push_back(models[at]);
          break;
        case 1:  // a first binding, repetitions kept
          if (rng() % 8 == 0) {
            std::vector<std::string>& written = kept.emplace_back();
            for (std::size_t n = rng() % 20; n-- > 0;) written.push_back(pool[rng() % pool.size()]);
            lists[at] = semantic::NameList(written);
            models[at].assign(written.begin(), written.end());
          }
          break;
        default: {  // merged in
          const bool held = std::any_of(models[at].begin(), models[at].end(),
                                        [&](std::string_view h) { return same(h, name); });
          ASSERT_EQ(lists[at].contains(name), held) << name;
          if (!held) {
            lists[at].push_back(name);
            models[at].push_back(name);
          }
        }
      }
    }
    for (std::size_t i = 0; i < lists.size(); ++i) {
      ASSERT_EQ(lists[i].to_vector(), models[i]) << i;
      ASSERT_EQ(lists[i].size(), models[i].size());
      for (const std::string& name : pool)
        ASSERT_EQ(lists[i].contains(name),
                  std::any_of(models[i].begin(), models[i].end(),
                              [&](std::string_view h) { return same(h, name); }))
            << name;
    }
  }
}

}  // namespace
}  // namespace torvane::validator
