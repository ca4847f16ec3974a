MATCH (p:Person)-[:ACTED_IN]->(m:Movie) RETURN p.name, m.title
MATCH (p:Persn) WHERE p.nme = 'Alice' RETURN p
MATCH (m:Movie)-[:ACTED_IN]->(p:Person) RETURN m
MATCH (p:Person) RETURN p.name AS name ORDER BY name LIMIT 10
MATCH (a:Person), (c:Company) RETURN a, c
MATCH (p:Person RETURN p
MATCH (p:Person)-[:WORKS_FOR*]->(c:Company) RETURN count(*) AS n
MATCH (p:Person)-[:ACTS_IN]->(m:Movie) RETURN p.name, m.titel
MATCH (p:Person) WITH p.name AS name RETURN p.age
