// Runs the grammar over a file of queries, one per line, and prints for each
// whether it is accepted or the syntax error.
#include <fstream>
#include <iostream>
#include <string>

#include "parser/cypher_parser.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: check_queries FILE\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "cannot read " << argv[1] << "\n";
    return 2;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    auto tree = torvane::parser::CypherParser::parse(torvane::parser::Rule::cypher, line);
    std::cout << line << "\n";
    if (tree.ok()) std::cout << "  accepted\n\n";
    else std::cout << tree.error().display() << "\n\n";
  }
}
