// The data dictionary that the XML table-data tests and fuzz target load:
// keys inherited from enclosing elements, a cyclic pair of foreign keys (A.X
// and B.Y), a self-referencing one (Employee), the Workflow_Statements end
// marker, and a column of every kind of value (Types).
#pragma once

inline const char kTableXmlDictionary[] = R"(<data-dictionary>
  <table name="Agentparams"><columns>
    <column name="PARAM_NAME"><data-type>TEXT</data-type></column>
    <column name="param_Value"><data-type>TEXT</data-type></column></columns></table>
  <table name="Orders"><columns>
    <column name="ORDER_ID"><data-type>INTEGER</data-type></column>
    <column name="TOTAL"><data-type>BIGINT</data-type></column></columns>
    <primary-key><primary-key-column>ORDER_ID</primary-key-column></primary-key></table>
  <table name="Lines"><columns>
    <column name="LINE_ID"><data-type>INTEGER</data-type></column>
    <column name="ORDER_ID"><data-type>INTEGER</data-type><default-value>-1</default-value></column></columns>
    <primary-key><primary-key-column>LINE_ID</primary-key-column>
      <primary-key-column>ORDER_ID</primary-key-column></primary-key>
    <foreign-keys><foreign-key name="f" reference-table-name="Orders"><fk-columns><fk-column>
      <fk-local-column>ORDER_ID</fk-local-column><fk-reference-column>ORDER_ID</fk-reference-column>
    </fk-column></fk-columns></foreign-key></foreign-keys></table>
  <table name="Employee"><columns>
    <column name="ID"><data-type>INTEGER</data-type></column>
    <column name="MANAGER_ID"><data-type>INTEGER</data-type></column></columns>
    <foreign-keys><foreign-key name="m" reference-table-name="Employee"><fk-columns><fk-column>
      <fk-local-column>MANAGER_ID</fk-local-column><fk-reference-column>ID</fk-reference-column>
    </fk-column></fk-columns></foreign-key></foreign-keys></table>
  <table name="A"><columns><column name="X"><data-type>INTEGER</data-type></column></columns>
    <foreign-keys><foreign-key name="ab" reference-table-name="B"><fk-columns><fk-column>
      <fk-local-column>X</fk-local-column><fk-reference-column>Y</fk-reference-column>
    </fk-column></fk-columns></foreign-key></foreign-keys></table>
  <table name="B"><columns><column name="Y"><data-type>INTEGER</data-type></column></columns>
    <foreign-keys><foreign-key name="ba" reference-table-name="A"><fk-columns><fk-column>
      <fk-local-column>Y</fk-local-column><fk-reference-column>X</fk-reference-column>
    </fk-column></fk-columns></foreign-key></foreign-keys></table>
  <table name="Workflow_Statements"><columns>
    <column name="NEXT_STATEMENT_ID"><data-type>INTEGER</data-type><default-value>9</default-value></column>
    <column name="NEXT"><data-type>INTEGER</data-type></column></columns></table>
  <table name="Types"><columns>
    <column name="T0"><data-type>ORV_SQL_NOT_SUPPORTED_TYPE</data-type></column>
    <column name="TINY"><data-type>ORV_SQL_TINYINT</data-type></column>
    <column name="U16"><data-type>ORV_SQL_UNSIGNED_SMALLINT</data-type></column>
    <column name="U64"><data-type>ORV_SQL_UNSIGNED_LONG_INT</data-type></column>
    <column name="F"><data-type>FLOAT</data-type></column>
    <column name="D"><data-type>ORV_SQL_DOUBLE</data-type></column>
    <column name="REAL"><data-type>ORV_SQL_REAL</data-type></column>
    <column name="DEC"><data-type>ORV_SQL_DECIMAL</data-type></column>
    <column name="NUM"><data-type>ORV_SQL_NUMERIC</data-type></column>
    <column name="BLOB"><data-type>BLOB</data-type></column>
    <column name="CLOB"><data-type>CLOB</data-type></column>
    <column name="OK"><data-type>BOOLEAN</data-type></column>
    <column name="DAY"><data-type>DATE</data-type></column>
    <column name="AT"><data-type>TIME</data-type></column>
    <column name="SEEN"><data-type>DATETIME</data-type></column>
    <column name="NAME"><data-type>CHAR</data-type></column>
    <column name="TEXT"><data-type>TEXT</data-type></column></columns></table>
</data-dictionary>)";
