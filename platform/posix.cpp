// Platform calls: being written.
