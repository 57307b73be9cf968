// Command-line front end.
