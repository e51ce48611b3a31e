// Placeholder: the library's registration exports.
