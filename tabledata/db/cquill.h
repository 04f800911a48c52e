// The support library's start and stop: its logger, the database providers,
// the data dictionary, the connection files, the pooled connections, the
// dictionary's tables in the database, the sequences, the tables that
// "loadtablelist.txt" names and the default rows of "defaultdata.txt".
#pragma once

// Starts everything under the root folder (files are looked for in
// "<root>/data", the log goes to "<root>/logs" unless one is open already);
// without a root the files are looked for beside the process. False when a
// step the rest depends on fails; loading the listed tables and saving the
// default data only log their failures. Default data is saved only when every
// dictionary table was newly created in the database, that is on the first
// start against a database. The process's object lock gets its mutex here
// unless it has one already (the agent log makes it too).
bool InitCQuill(const char* root);
// Releases what InitCQuill set up, in this order: the loaded tables, the
// sequence cache, the pooled connections, the connection parameters, the
// data-source map, the data dictionary, the providers, the logger when
// InitCQuill opened it, and the object lock's mutex when InitCQuill made it.
void DeInitCQuill();
