// Zandor.Interfaces (being written)
