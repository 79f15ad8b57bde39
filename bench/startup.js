// Nothing: the cost of starting the program and the engine.
